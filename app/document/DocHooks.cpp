#include "DocHooks.h"

TW_DOCUMENT_HOOKS& TW_DocumentHooks() {
  static TW_DOCUMENT_HOOKS hooks;
  return hooks;
}
