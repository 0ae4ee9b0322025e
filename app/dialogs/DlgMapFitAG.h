#pragma once
// "MapFit MAG (Multi-Agent)": the modal dialog of the multi-agent MapFit record. OK checks the
// ranges and writes every field back (the smoothness, edited as a real, truncated to an integer);
// Cancel leaves the record as it was.

struct VA_MAPFITAGPARM;

bool TW_DlgMapFitAG(VA_MAPFITAGPARM* record);
