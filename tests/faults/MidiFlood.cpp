// movrin-flood: a JACK client that floods MIDI input ports with random short messages, for
// fault tests. It joins every MIDI input port whose full name matches a regular expression,
// including ports that appear later, and never produces the two reply notes themselves: a
// forged reply would be a different fault.
//
//   movrin-flood --name CLIENT --to REGEX [--per-cycle N] [--seed S]
//
// Prints "ready" once active, "joined PORT" for each port it floods, and on SIGTERM or SIGINT
// the number of messages written, then exits 0.

#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int /*signal*/) {
  g_stop.store(true);
}

struct Flood {
  jack_port_t* port = nullptr;
  unsigned perCycle = 16;
  std::uint32_t state = 1;  // xorshift32, process thread only
  std::atomic<std::uint64_t> written{0};

  std::uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }

  // One stray message into `bytes`; returns its length.
  std::size_t Stray(std::uint8_t* bytes) {
    const std::uint32_t r = Next();
    const auto data = [&](int shift) { return static_cast<std::uint8_t>((r >> shift) & 0x7F); };
    switch (r % 8) {
      case 0:  // the reply notes on another channel
        bytes[0] = static_cast<std::uint8_t>(0x91 + (r >> 8) % 15);
        bytes[1] = 0x3C;
        bytes[2] = (r >> 12) % 2 == 0 ? 0x11 : 0x33;
        return 3;
      case 1: {  // the right key with another velocity
        std::uint8_t velocity = data(8);
        if (velocity == 0x11 || velocity == 0x33) {
          ++velocity;
        }
        bytes[0] = 0x90;
        bytes[1] = 0x3C;
        bytes[2] = velocity;
        return 3;
      }
      case 2:  // note off carrying the reply's bytes
        bytes[0] = 0x80;
        bytes[1] = 0x3C;
        bytes[2] = (r >> 12) % 2 == 0 ? 0x11 : 0x33;
        return 3;
      case 3:  // two-byte channel messages
        bytes[0] = static_cast<std::uint8_t>(((r >> 8) % 2 == 0 ? 0xC0 : 0xD0) | ((r >> 12) & 0xF));
        bytes[1] = data(16);
        return 2;
      case 4:  // real-time bytes: clock, start, active sensing
      {
        constexpr std::uint8_t kRealTime[] = {0xF8, 0xFA, 0xFE};
        bytes[0] = kRealTime[(r >> 8) % 3];
        return 1;
      }
      case 5:  // quarter frame and song select
        bytes[0] = (r >> 8) % 2 == 0 ? 0xF1 : 0xF3;
        bytes[1] = data(16);
        return 2;
      default: {  // any other three-byte channel message
        constexpr std::uint8_t kKinds[] = {0xA0, 0xB0, 0xE0};
        bytes[0] = static_cast<std::uint8_t>(kKinds[(r >> 4) % 3] | ((r >> 8) & 0xF));
        bytes[1] = data(12);
        bytes[2] = data(20);
        return 3;
      }
    }
  }

  static int Process(jack_nframes_t frames, void* self) {
    auto* flood = static_cast<Flood*>(self);
    void* buffer = jack_port_get_buffer(flood->port, frames);
    jack_midi_clear_buffer(buffer);
    for (unsigned i = 0; i < flood->perCycle; ++i) {
      std::uint8_t bytes[3];
      const std::size_t size = flood->Stray(bytes);
      const auto time = static_cast<jack_nframes_t>(i * frames / flood->perCycle);
      if (jack_midi_event_write(buffer, time, bytes, size) != 0) {
        break;
      }
      flood->written.fetch_add(1);
    }
    return 0;
  }
};

int Usage() {
  std::fputs("usage: movrin-flood --name CLIENT --to REGEX [--per-cycle N] [--seed S]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string name = "movrin-flood";
  std::string pattern;
  Flood flood;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const char* value = argv[i + 1];
    if (option == "--name") {
      name = value;
    } else if (option == "--to") {
      pattern = value;
    } else if (option == "--per-cycle") {
      flood.perCycle = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
    } else if (option == "--seed") {
      flood.state = static_cast<std::uint32_t>(std::strtoul(value, nullptr, 10)) | 1u;
    } else {
      return Usage();
    }
  }
  if (pattern.empty() || argc % 2 == 0) {
    return Usage();
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  jack_status_t status{};
  jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
  if (client == nullptr) {
    std::fprintf(stderr, "movrin-flood: no JACK server (status 0x%x)\n", status);
    return 3;
  }
  flood.port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (flood.port == nullptr || jack_set_process_callback(client, &Flood::Process, &flood) != 0 ||
      jack_activate(client) != 0) {
    std::fputs("movrin-flood: cannot register or activate\n", stderr);
    jack_client_close(client);
    return 3;
  }
  std::printf("ready\n");
  std::fflush(stdout);

  const std::string own = jack_port_name(flood.port);
  std::set<std::string> joined;
  while (!g_stop.load()) {
    const char** ports =
        jack_get_ports(client, pattern.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
    std::set<std::string> present;
    for (const char** it = ports; it != nullptr && *it != nullptr; ++it) {
      present.insert(*it);
      if (joined.count(*it) == 0) {
        const int result = jack_connect(client, own.c_str(), *it);
        if (result == 0 || result == EEXIST) {
          joined.insert(*it);
          std::printf("joined %s\n", *it);
          std::fflush(stdout);
        }
      }
    }
    jack_free(static_cast<void*>(ports));
    // A port that went away may come back under the same name: join it again then.
    for (auto it = joined.begin(); it != joined.end();) {
      it = present.count(*it) == 0 ? joined.erase(it) : std::next(it);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  jack_deactivate(client);
  jack_client_close(client);
  std::printf("flooded %llu messages\n", static_cast<unsigned long long>(flood.written.load()));
  return 0;
}
