// The brain rows of the command table: "White Matter FLAIR Lesions" and "Segment Lateral Ventricle
// from T1W or FLAIR" (Workflows > Brain MR) and the NIfTI lesion batch of the Applications menu.
#include "BrainDialogs.h"
#include "BrainOperations.h"
#include "CommandTable.h"

TW_COMMAND_BINDINGS(brain_operations) {
  TW_RegisterPreset("g_FlairLesionParms", &g_WmlVentrSeg);
  TW_BindOperation("CDrawSet::SegmentFlairLesionsAlgo2", [](const TW_COMMAND_CALL& c) {
    TW_SegmentFlairLesions(c.set, c.Flag(0), c.view, c.Record<VA_WMLVENTRSEG>(2));
  });
  TW_BindOperation("CDrawSet::BrainSegmentLateralVentricle",
                   [](const TW_COMMAND_CALL& c) { TW_BrainSegmentLateralVentricle(c.set); });
  // "NIFTI Folder : White Matter Lesions (FLAIR) batch measurement" (Applications).
  TW_BindOperation("BP_WMlesionsFlair_BatchProcess", [](const TW_COMMAND_CALL&) { TW_WMLBatchFromNiftiFolder(); });
}
