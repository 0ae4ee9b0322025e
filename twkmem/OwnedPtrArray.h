#pragma once
// twk::OwnedPtrArray: one owner for a counted array (pf_malloc) whose elements were each made with
// new, as the record extractors (the PHI lines of a volume or a document) and PR_ExtractAllSubstrings
// hand them out. The elements are deleted and the array freed when the owner goes out of scope;
// extractors that append to an array fill it through Items() and CountPtr().
//
//   twk::OwnedPtrArray<CString, int> lines;
//   if (!set->ExtractPHIrecords(lines.Items(), lines.CountPtr())) return false;
//   for (int i = 0; i < lines.Count(); ++i) use(*lines[i]);

#include <cstdint>

#include "TwkMem.h"

namespace twk {

template <class T, class N = int64_t>
class OwnedPtrArray {
 public:
  OwnedPtrArray() = default;
  ~OwnedPtrArray() { Reset(); }
  OwnedPtrArray(const OwnedPtrArray&) = delete;
  OwnedPtrArray& operator=(const OwnedPtrArray&) = delete;

  T*** Items() { return &items_; }
  N* CountPtr() { return &count_; }
  N Count() const { return count_; }
  T* operator[](N i) const { return items_[i]; }

  // Deletes the elements and frees the array; the owner is empty afterwards.
  void Reset() {
    for (N i = 0; i < count_; ++i) delete items_[i];
    pf_free(&items_);
    count_ = 0;
  }
  // Hands the array over to the caller, who then deletes its elements and frees it.
  T** Release(N* count) {
    T** items = items_;
    if (count) *count = count_;
    items_ = nullptr;
    count_ = 0;
    return items;
  }

 private:
  T** items_ = nullptr;
  N count_ = 0;
};

}  // namespace twk
