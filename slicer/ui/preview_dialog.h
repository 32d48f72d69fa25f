#pragma once
// The preview window "preview stl file": shows the paint box of SlicePreview
// and forwards the window's events to it. No logic lives here.
#include <QDialog>

#include "slicer/slice_preview.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace lt {

class PaintBox;
class ColourPanel;

class PreviewDialog : public QDialog, public PreviewWindow {
 public:
  PreviewDialog(SlicePreview& preview, QWidget* parent);

  // PreviewWindow
  void show(const PreviewView& view) override;
  void paintBoxChanged() override;
  void processEvents() override;
  void pause(int ms) override;
  std::optional<unsigned> chooseColour(unsigned rgb) override;
  void showMessage(const std::string& text) override;
  void setBusyCursor(bool busy) override;
  void maximise() override;
  void close() override;

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  // Escape closes like the window's close button.
  void reject() override { QDialog::close(); }

 private:
  SlicePreview& preview_;
  PaintBox* pbx_;
  QLabel *label2_, *label4_, *label5_;
  QScrollBar* scrollBar1_;
  QLineEdit* editz_;
  QPushButton *movie_, *vbutton_;
  ColourPanel *panel1_, *panel5_, *panel4_;
  bool busyCursor_ = false;
};

}  // namespace lt
