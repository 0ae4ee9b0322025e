#pragma once
// Cross-document lookups and merges of layer sets (LayerMerge.cpp).

class CDrawDoc;
class CDrawSet;
struct VA_VIBEGRASPPARMS;

// The VIBE and GRASP merge parameters, kept between runs (axis 3, rotation -90, 20 mm, flag 1, 3
// frames at start).
VA_VIBEGRASPPARMS& TW_VibeGraspParms();

// The open document whose title contains "Atlas" and the part (when it is not empty), both in any
// case; null when none, or (with "More than one suitable document is present") when several match.
CDrawDoc* TW_GetDocumentWithNameParts(const wchar_t* part);

namespace twk::files {

// The VIBE volume of the set (with its optional normalisation ROI) and the GRASP series of the one
// other open document merged into a new document, with the prompts on TW_VibeGraspParms(); messages
// read "CDrawSet::ConcatenateVibeGrasp : ...".
bool ConcatenateVibeGrasp(CDrawSet& set);

}  // namespace twk::files
