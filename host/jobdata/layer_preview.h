#pragma once
// The "dsp p3d" layer preview: one layer of the job's .p3d painted into a
// 900 x 1000 picture (water grey, cyan, magenta and yellow darkening the
// dot), shown in the viewer window; in accumulate mode each layer shown is
// laid over the ones before. The white-shift pattern renders its pages
// through it.
#include <QImage>

#include <cstdio>
#include <memory>

#include "host/core/main_timers.h"
#include "platform/clock.h"

namespace ph {

class HostCore;
struct JobState;

class LayerPreview {
 public:
  static constexpr int kWidth = 900;
  static constexpr int kHeight = 1000;

  LayerPreview(HostCore& core, const JobState& job);
  ~LayerPreview();
  LayerPreview(const LayerPreview&) = delete;
  LayerPreview& operator=(const LayerPreview&) = delete;

  // The page a caller asks for; -1: the operator is asked.
  int pageRequest = -1;
  // Each layer shown is laid over the ones before (the right button on
  // "dsp p3d", or a page of 20000 and more).
  bool accumulate = false;

  // "dsp p3d": the page asked (or requested), painted and shown. A page of
  // 20000 + n shows layer n and switches accumulate mode on, 10000 + n
  // shows it with water dots left white. False when the .p3d did not open.
  bool showLayer();
  void armAccumulate() { accumulate = true; }
  // Paints and shows one page as it stands (no question, no mode change).
  bool showPage(int page, bool waterWhite);
  // The timer endbForm: stops and closes the viewer window.
  void closePicture();

  // The picture last painted (after accumulating) and the page it shows.
  const QImage& picture() const { return picture_; }
  int page() const { return page_; }

 private:
  // Paints layer page_ of the open job; stops, logged, where the file
  // holds no such layer or a plane row runs past the file's end.
  void paintLayer(std::FILE* file, bool waterWhite);

  HostCore& core_;
  const JobState& job_;
  OwnedTimer pictureEnd_;  // endbForm
  QImage picture_;
  QImage accumulated_;
  int page_ = 0;
};

}  // namespace ph
