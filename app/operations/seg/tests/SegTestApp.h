#pragma once
// The offscreen application of the segmentation tests' Qt windows.

#include <QApplication>

#include <cstdlib>

namespace twk::segtest {

inline QApplication& app() {
  static int argc = 1;
  static char name[] = "seg_operations_test";
  static char* argv[] = {name, nullptr};
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (!QApplication::instance()) new QApplication(argc, argv);
  return *static_cast<QApplication*>(QApplication::instance());
}

}  // namespace twk::segtest
