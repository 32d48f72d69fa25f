// The other side of a couple, for the two-process tests: a client couple
// that answers every message in the shared memory.
//
//   couple_peer NAME [BUFFERSIZE [TAG]]
//
// On start it writes "ready size=N" (N: the bytes it has mapped) and sets
// its send event. Each message it receives is answered with
// "echo:<message> n=<count>"; the message "quit" is answered with "bye" and
// ends the program. Twenty seconds without a message end it with status 2.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/components/mem_couple.h"
#include "platform/format.h"
#include "platform/handover.h"

int main(int argc, char** argv) {
  if (argc < 2) return 64;
  plat::PostQueue ui;
  ph::TMemCouple couple(ui.poster());
  couple.SetName(argv[1]);
  couple.SetClient(true);
  if (argc > 2) couple.BufferSize = std::atoi(argv[2]);
  if (argc > 3) couple.Tag = std::atoi(argv[3]);

  int count = 0;
  bool quit = false;
  auto reply = [&](const std::string& text) { couple.SendBuf(text.c_str(), int(text.size() + 1)); };
  couple.OnReceive = [&](ph::TMemCouple& c) {
    const char* v = reinterpret_cast<const char*>(c.view());
    std::string msg = v ? std::string(v, strnlen(v, c.viewSize())) : std::string();
    ++count;
    if (msg == "quit") {
      reply("bye");
      quit = true;
    } else {
      reply(plat::format("echo:%s n=%d", msg, count));
    }
  };
  couple.Open();
  if (!couple.waiting() || !couple.view()) return 3;
  reply(plat::format("ready size=%zu", couple.viewSize()));

  auto idleSince = std::chrono::steady_clock::now();
  while (!quit) {
    if (ui.waitAndRun(100) > 0) idleSince = std::chrono::steady_clock::now();
    if (std::chrono::steady_clock::now() - idleSince > std::chrono::seconds(20)) return 2;
  }
  couple.Close();
  return 0;
}
