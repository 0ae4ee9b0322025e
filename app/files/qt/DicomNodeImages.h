#pragma once
// The node pictures of the DICOM trees (the browser's study tree and the element tree of the volume
// information dialog): nine 16 x 16 pictures drawn once at start-up, white transparent, in the order
// of their resource numbers (kDicomNodeImageResources, DicomLoad.h): closed folder, open folder,
// image, then the series pictures 3 to 8 of the browser.

#include <QIcon>

// TW_InitTreeNodeImgList: makes the pictures; false (after "Unable to load DICOM tree node bitmaps")
// when they cannot be made. Start-up stops on false.
bool TW_InitTreeNodeImgList();
// The picture of an index (0 to 8); a null icon before the list is made or for another index.
QIcon TW_DicomNodeIcon(int index);
