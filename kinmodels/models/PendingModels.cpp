// Catalogue entries of the models whose computation is not written yet.
//
// Their metadata is complete, so the host can list them, show their parameters and run a cycle:
// init succeeds without preparing anything and every curve gives the failure value (1e60 in each
// requested output, a fitted curve of 1e60).
//
// The entries are weak definitions: a model's own file models/ModelNN_Name.cpp defines kModelNN
// with its operations and replaces the entry here at link time, so several models can be written
// at once without touching this file. Delete an entry once its model's file is committed.
// ModelTable.cpp needs no change: it refers to kModelNN wherever it is defined.

#include "ModelTable.h"

#define KIN_PENDING_MODEL extern __attribute__((weak))

namespace kin {
namespace {

// The failure value for every curve: no init work, no computation.
constexpr ModelOps kNotYetWritten = {};

}  // namespace

}  // namespace kin
