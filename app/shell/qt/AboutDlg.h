#pragma once
// CAboutDlg, "About this Application": the product, its build number and the memory the program's
// counted allocator holds at the moment it opens.

#include <QDialog>

class QLabel;

class CAboutDlg : public QDialog {
 public:
  explicit CAboutDlg(QWidget* parent);
  const QLabel* BuildLabel() const { return build_; }
  const QLabel* MemoryLabel() const { return memory_; }

 private:
  QLabel* build_ = nullptr;
  QLabel* memory_ = nullptr;
};
