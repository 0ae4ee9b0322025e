#pragma once
// The object loaders of every document version and the steps the document readers share.
// Internal to the document file code (app/files).

#include <cstdio>

#include "CString.h"

class CDrawDoc;
class CDrawObj;

namespace twk::files {

// Which version's layouts a load follows: 17 the current one, 2 and 3 stand for 2.0 and 3.0.
struct ReadContext {
  int version = 17;
  bool showProgress = false;
};

// The object factory of the version: the tags the version knows, each by its loader.
CDrawObj* loadObject(CDrawDoc* doc, FILE* fp, const ReadContext& context);

// The object count and the objects, each appended to the document (bounds, owner, modified flag).
// False at the first object that does not load; the objects read so far stay in the document.
bool readObjects(CDrawDoc* doc, FILE* fp, const ReadContext& context);
// Gives every top-level vector-ROI set the volume set stored at its owner position, or none.
void resolveVectorRoiOwners(CDrawDoc* doc);
// Forgets the owner positions of a load that ended.
void dropPendingOwners(CDrawDoc* doc);

// The background colour is never taken from a file: the option wins.
bool readBackgroundColour(CDrawDoc* doc, FILE* fp);
// The dynamic-experiment block with the loader of the version, into the application's host when
// the option asks for it, else into a scratch host only to check and pass over it.
bool readDynExp(FILE* fp, int version, const wchar_t* path);

// The readers of the older versions; each returns false on failure after its own messages. The
// stream stays open.
bool loadOldDocument(CDrawDoc* doc, FILE* fp, int version, const wchar_t* path, bool showProgress);

}  // namespace twk::files
