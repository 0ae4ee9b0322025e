#pragma once
// Lends a held frame to a call that may take it over through a FRAME** slot (AddResultLayer,
// VA_CloneByReformat and their kind): the call finds the frame in the slot; when it clears the
// slot the frame is its, otherwise the holder has it back at the end of the full expression.
//
//   FramePtr map(VA_VolDynamicMax(frame, t0, t1, true));
//   const bool ok = set.AddResultLayer(true, true, name, vol, twk::FrameHandOff(map), 50, 0, -1);
//   // map is empty when the layer adopted the frame, and frees it otherwise.
//
// The other arguments of that call must not read the holder: it is empty while the call runs.

#include "volume/Frame.h"

namespace twk {

class FrameHandOff {
 public:
  explicit FrameHandOff(FramePtr& holder) : holder_(holder), slot_(holder.release()) {}
  ~FrameHandOff() { holder_.reset(slot_); }
  FrameHandOff(const FrameHandOff&) = delete;
  FrameHandOff& operator=(const FrameHandOff&) = delete;

  operator FRAME**() { return &slot_; }

 private:
  FramePtr& holder_;
  FRAME* slot_;
};

}  // namespace twk
