#include "DocumentRecords.h"

#include <sys/stat.h>

#include <cmath>
#include <cstring>

#include "TwkMem.h"
#include "Vol.h"
#include "render/ProjectionGeometry.h"
#include "serial/MemFile.h"

namespace twk::files {

void packVolumeBlock(const CVol* vol, VOLBLOCK* block) {
  *block = VOLBLOCK{};
  block->spacing = *vol->Spc();
  block->modality = vol->GetModality();
  vol->GetOrientation(block->orientation);
  block->hasImagePositions = vol->imgPos ? 1 : 0;
  block->tissueT1 = vol->tissue.t1;
}

void unpackVolumeBlock(const VOLBLOCK& block, CVol* vol) {
  *vol->Spc() = block.spacing;
  vol->SetOrientation(block.orientation);
  if (!vol->SetModality(block.modality)) vol->modality = MODALITY_UNKNOWN;
  if (!block.hasImagePositions) pf_free(&vol->imgPos);
  // Older documents hold zeros here; a damaged value is not taken.
  vol->tissue.t1 = std::isfinite(block.tissueT1) && block.tissueT1 >= 0 ? block.tissueT1 : 0;
}

bool writeBytes(MFILE* mf, const void* data, int64_t count) { return PR_MemFileWrite(mf, data, count); }

bool writeLine(MFILE* mf, const CString& text) {
  CString line = text;
  line.Replace(L'\n', L' ');
  return PR_MemFileWriteString(mf, L"%s\n", line.GetString());
}

int64_t bytesLeft(FILE* fp) {
  struct stat info {};
  if (!fp || ::fstat(::fileno(fp), &info) != 0) return 0;
  const int64_t at = int64_t(::ftello(fp));
  return at < 0 || at > int64_t(info.st_size) ? 0 : int64_t(info.st_size) - at;
}

bool readBytes(FILE* fp, void* out, int64_t count) {
  if (!fp || count < 0) return false;
  if (count == 0) return true;
  if (count > bytesLeft(fp)) return false;
  return std::fread(out, 1, size_t(count), fp) == size_t(count);
}

bool skipBytes(FILE* fp, int64_t count) {
  if (!fp || count < 0 || count > bytesLeft(fp)) return false;
  return ::fseeko(fp, off_t(count), SEEK_CUR) == 0;
}

bool readLine(FILE* fp, CString* line) { return PR_fgetts(fp, line, bytesLeft(fp) / 2 + 1); }

bool readBaseRecord(FILE* fp, CDrawObj* obj) {
  BASEREC rec;
  if (!readValue(fp, &rec)) return false;
  obj->marked = rec.marked;
  obj->opacity = rec.opacity;
  obj->position = rec.world;
  obj->style = rec.style;
  obj->highlight = rec.highlight;
  return true;
}

bool writeBaseRecord(MFILE* mf, CDrawObj* obj) {
  BASEREC rec;
  rec.marked = obj->marked;
  rec.opacity = obj->opacity;
  obj->GetWorldRect(&rec.world);
  rec.style = obj->style;
  rec.highlight = obj->highlight;
  rec.reserved = 0;
  return writeValue(mf, rec);
}

}  // namespace twk::files
