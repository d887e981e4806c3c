// A device on a raw MIDI port (/dev/snd/midiC*D*), for the raw route: no sequencer parses what
// it reads. It answers as movrin-device does and checks every byte against the transfer that
// movrin-send --export wrote, so the header's 0x89 and block numbers of 0xF0-0xFF must arrive
// exactly as sent.
//   movrin-raw-device DEVICE EXPORT.syx   prints "ready" once the port is open; 0 when all matched

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

constexpr int kWaitMs = 20000;

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) {
      close(fd);
    }
  }
};

int Fail(const char* what, std::size_t offset) {
  std::fprintf(stderr, "movrin-raw-device: %s at byte %zu of the transfer\n", what, offset);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: movrin-raw-device DEVICE EXPORT.syx\n", stderr);
    return 2;
  }
  std::ifstream file(argv[2], std::ios::binary);
  const std::vector<std::uint8_t> wire{std::istreambuf_iterator<char>(file), {}};
  const Fd port{open(argv[1], O_RDWR)};
  if (wire.size() < 14 || port.fd < 0) {
    std::perror("movrin-raw-device");
    return 2;
  }
  // A raw MIDI input starts taking bytes at its first poll or read: before "ready", so that a
  // sender that starts then loses nothing.
  pollfd start{port.fd, POLLIN, 0};
  poll(&start, 1, 0);
  std::puts("ready");
  std::fflush(stdout);
  std::vector<std::uint8_t> got(1100);
  for (std::size_t at = 0, blocks = 0; at < wire.size(); ++blocks) {
    // The announce is 14 bytes; a block ends at the first 0xF7 after its 13-byte header.
    const std::size_t end =
        at == 0 ? 14 : std::find(wire.begin() + at + 13, wire.end(), 0xF7) - wire.begin() + 1;
    while (at < end) {
      pollfd ready{port.fd, POLLIN, 0};
      if (poll(&ready, 1, kWaitMs) != 1) {
        return Fail("nothing arrived", at);
      }
      const ssize_t n = read(port.fd, got.data(), std::min(got.size(), end - at));
      if (n <= 0) {
        return Fail("read failed", at);
      }
      const auto diff = std::mismatch(got.begin(), got.begin() + n, wire.begin() + at);
      if (diff.first != got.begin() + n) {
        return Fail("wrong byte", at + (diff.first - got.begin()));
      }
      at += static_cast<std::size_t>(n);
    }
    // Ready and the first request after the announce, a request after each block but the last.
    static constexpr std::uint8_t kReplies[] = {0x90, 0x3C, 0x11, 0x90, 0x3C, 0x33};
    const std::size_t skip = blocks == 0 ? 0 : 3;
    const auto length = static_cast<ssize_t>(sizeof kReplies - skip);
    if (at < wire.size() && write(port.fd, kReplies + skip, sizeof kReplies - skip) != length) {
      return Fail("reply failed", at);
    }
  }
  std::printf("all %zu bytes as sent\n", wire.size());
  return 0;
}
