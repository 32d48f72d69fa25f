#include "host/machine/machine_links.h"

#include "host/core/host_core.h"

namespace ph {

DeviceLinks::DeviceLinks(HostCore& core, SettingsFiles& files, plat::UiPoster poster, MachineEvents& events,
                         MarlinEvents& marlinEvents)
    : CommInk(poster),
      CommMarlin(poster),
      ink(core, files, inkPort, InkSocket, events),
      marlin(core, marlinPort, MarlSocket, marlinEvents),
      core_(core),
      linkStart_(core.timers.make("InkCommStart")) {
  linkStart_->setHandler([this] { openAtStart(); });
}

DeviceLinks::~DeviceLinks() = default;

void DeviceLinks::reopenInkLinkAfter(int ms) {
  linkStart_->stop();
  linkStart_->setInterval(ms);
  linkStart_->start();
}

void DeviceLinks::openAtStart() {
  linkStart_->stop();
  Control& box = core_.controls.at("cb_comm");
  if (!box.checked) {
    box.setChecked(true);
    box.click();
  }
  if (core_.s.openMarlinAtStart) marlin.openMarlin();
}

void DeviceLinks::chooseMarlinTransport(const std::string& tcpHost, int tcpPort) {
  // A "host:port" text always names its host.
  if (!tcpHost.empty()) marlin.useTcp(tcpHost, tcpPort);
  else marlin.setUpSerialPort();
}

void DeviceLinks::closeSerialLinks() {
  inkPort.close();
  marlinPort.close();
  InkSocket.setActive(false);
  MarlSocket.setActive(false);
  ink.inkLinkOpen = false;
  marlin.marlinLinkOpen = false;
}

}  // namespace ph
