// Writes the seed documents of the document reader's fuzz target into a folder, app/files/fuzz_seeds
// of the source tree unless another is given. Run it when the document format changes; the
// old-version tests check that every seed there still reads.
//   write_fuzz_seeds [folder]
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "FilesTestKit.h"
#include "LegacyDocuments.h"

using namespace twk::filestest;

int main(int argc, char** argv) {
  const std::filesystem::path folder =
      argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::path(TWK_SOURCE_DIR) / "app/files/fuzz_seeds";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  ScratchFolder scratch("write_fuzz_seeds");
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  TW_EditOptions().tempFolder = scratch.folder();
  TW_EditOptions().loadDmdbFromTwk = 1;

  bool ok = true;
  auto path = [&](const char* name) { return CString::fromUtf8((folder / name).string()); };
  auto save = [&](CDrawDoc* doc, const char* name) {
    if (!doc->Save(path(name), nullptr, false, false, false)) {
      std::fprintf(stderr, "cannot save %s\n", name);
      ok = false;
    }
  };
  auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
    FILE* fp = std::fopen((folder / name).string().c_str(), "wb");
    if (!fp || std::fwrite(bytes.data(), 1, bytes.size(), fp) != bytes.size()) {
      std::fprintf(stderr, "cannot write %s\n", name);
      ok = false;
    }
    if (fp) std::fclose(fp);
  };

  std::unique_ptr<CDrawDoc> fixture(makeFixtureDocument());
  save(fixture.get(), "fixture_v17.twk");
  CDrawDoc empty;
  save(&empty, "empty_v17.twk");
  CDrawDoc shapes;
  add(&shapes, makePolyline());
  add(&shapes, new CDrawRect(DRAWOBJ_ELLIPSE, DRECT{0, 0, 2, 3}));
  add(&shapes, new CDrawArc(DRECT{0, 0, 4, 4}));
  add(&shapes, makeVectorRoi(&shapes, nullptr, "free", 0, 1, 0));
  save(&shapes, "shapes_v17.twk");
  std::unique_ptr<CDrawDoc> versioned(makeVersionDocument());
  write("version16.twk", writeVersion(16, versioned.get()));
  write("version12.twk", writeVersion(12, versioned.get()));
  write("version10_poly.twk", polylineOnlyDocument(10, 7));
  write("version2.twk", makeVersion2().bytes);
  if (ok) std::printf("seed documents written to %s\n", folder.string().c_str());
  return ok ? 0 : 1;
}
