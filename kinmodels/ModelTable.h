#pragma once
// The catalogue records of the models, one per type, each defined in its model's source file
// (models/ModelNN_Name.cpp).
// Types 55 and 56 do not exist.

#include "ModelFrame.h"

namespace kin {

extern const ModelSpec kModel00;
extern const ModelSpec kModel01;
extern const ModelSpec kModel02;
extern const ModelSpec kModel03;
extern const ModelSpec kModel04;
extern const ModelSpec kModel05;
extern const ModelSpec kModel06;
extern const ModelSpec kModel07;
extern const ModelSpec kModel08;
extern const ModelSpec kModel09;
extern const ModelSpec kModel10;
extern const ModelSpec kModel11;
extern const ModelSpec kModel12;
extern const ModelSpec kModel13;
extern const ModelSpec kModel14;
extern const ModelSpec kModel15;
extern const ModelSpec kModel16;
extern const ModelSpec kModel17;
extern const ModelSpec kModel18;
extern const ModelSpec kModel19;
extern const ModelSpec kModel20;
extern const ModelSpec kModel21;
extern const ModelSpec kModel22;
extern const ModelSpec kModel23;
extern const ModelSpec kModel24;
extern const ModelSpec kModel25;
extern const ModelSpec kModel26;
extern const ModelSpec kModel27;
extern const ModelSpec kModel28;
extern const ModelSpec kModel29;
extern const ModelSpec kModel30;
extern const ModelSpec kModel31;
extern const ModelSpec kModel32;
extern const ModelSpec kModel33;
extern const ModelSpec kModel34;
extern const ModelSpec kModel35;
extern const ModelSpec kModel36;
extern const ModelSpec kModel37;
extern const ModelSpec kModel38;
extern const ModelSpec kModel39;
extern const ModelSpec kModel40;
extern const ModelSpec kModel41;
extern const ModelSpec kModel42;
extern const ModelSpec kModel43;
extern const ModelSpec kModel44;
extern const ModelSpec kModel45;
extern const ModelSpec kModel46;
extern const ModelSpec kModel47;
extern const ModelSpec kModel48;
extern const ModelSpec kModel49;
extern const ModelSpec kModel50;
extern const ModelSpec kModel51;
extern const ModelSpec kModel52;
extern const ModelSpec kModel53;
extern const ModelSpec kModel54;
extern const ModelSpec kModel57;

}  // namespace kin
