#pragma once
// The installable view of the "Layer Operations" dialog: shows the prepared record and gives the
// code of the operation button pressed (0 for OK without an operation).

#include <functional>

#include "LayerOperations.h"

using TW_LAYEROPERS_VIEW = std::function<int(const TW_LAYEROPERS& record)>;
void TW_SetLayerOperationsView(TW_LAYEROPERS_VIEW view);
