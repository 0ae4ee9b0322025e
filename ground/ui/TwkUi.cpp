#include "TwkUi.h"

#include <atomic>

namespace twk {

namespace {

// Answers every question with its cancel/no value and shows nothing, so that work run without a
// user never waits.
class SilentUi final : public Ui {
 public:
  int messageBox(const CString&, const CString&, unsigned type) override {
    switch (type & 0xF) {
      case MB_OK: return IDOK;
      case MB_OKCANCEL: return IDCANCEL;
      case MB_ABORTRETRYIGNORE: return IDABORT;
      case MB_YESNOCANCEL: return IDCANCEL;
      case MB_YESNO: return IDNO;
      case MB_RETRYCANCEL: return IDCANCEL;
      default: return IDCANCEL;
    }
  }
  int threeButtons(const CString&, const CString&, const CString&, const CString&, const CString&) override { return 2; }
  bool askValues(const CString&, std::vector<PromptField>&) override { return false; }
  bool openFileName(const FileRequest&, CString&) override { return false; }
  bool openFileNames(const FileRequest&, std::vector<CString>&) override { return false; }
  bool saveFileName(const FileRequest&, CString&) override { return false; }
  bool folderName(const CString&, const CString&, CString&) override { return false; }
  void setStatusText(const CString&) override {}
  void setProgress(int) override {}
  void pumpEvents() override {}
  bool showTextFile(const CString&) override { return false; }
};

SilentUi silentUi;
std::atomic<Ui*> installedUi{nullptr};

}  // namespace

Ui& ui() {
  Ui* installed = installedUi.load(std::memory_order_acquire);
  return installed ? *installed : silentUi;
}

Ui* setUi(Ui* ui) { return installedUi.exchange(ui, std::memory_order_acq_rel); }

}  // namespace twk
