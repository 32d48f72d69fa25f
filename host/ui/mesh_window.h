#pragma once
// The mesh-tools window ("stl/obj functions"): its memo follows the mesh
// tools' log, its buttons and menu come from their controls. No logic here.
#include <QDialog>
#include <map>

#include "host/mesh/mesh_window_view.h"
#include "host/ui/log_view.h"

class QAction;
class QLabel;

namespace ph {

class MeshTools;
class ButtonKeys;
struct Control;

class MeshWindow : public QDialog, public MeshWindowView {
 public:
  // keys: where keys typed on the buttons go (none: they go nowhere).
  MeshWindow(MeshTools& tools, QWidget* parent, ButtonKeys* keys = nullptr);
  ~MeshWindow() override;

  // MeshWindowView
  void imageChanged() override;
  void showPreview(int slot, const QImage& picture, const std::string& caption, bool modal) override;
  void closePreview(int slot) override;
  std::optional<int> chooseColour(int initial) override;
  std::optional<QImage> clipboardBitmap() override;
  void pause(int ms) override;
  void closeWindow() override;

 protected:
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void controlChanged(const Control& c);

  MeshTools& tools_;
  LogView* memo_ = nullptr;
  std::map<const Control*, QWidget*> buttons_;
  std::map<const Control*, QAction*> actions_;
  ButtonKeys* keys_ = nullptr;
  std::map<QObject*, std::string> keyButtons_;
  QLabel* image_ = nullptr;  // Im1
  QDialog* previews_[3] = {nullptr, nullptr, nullptr};
};

}  // namespace ph
