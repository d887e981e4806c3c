#include "JackInputPort.h"

#include <jack/midiport.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <vector>

#include "MidiParser.h"
#include "SpscMessageRing.h"

namespace movrin {

namespace {

// Room for dozens of full blocks while the handler is busy.
constexpr std::size_t kRingBytes = 2 * kLargestMessageBytes;
// A bound on each sleep of the delivery thread, should a wake-up ever be lost.
constexpr int kWakeSliceMs = 100;

}  // namespace

// The process callback's side: copies each event into the ring and wakes the delivery thread
// through an eventfd (one system call, without locks or allocation).
class JackInputPort::Feed final : public JackCycle {
 public:
  Feed() : ring(kRingBytes), wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~Feed() override {
    if (wakeFd >= 0) {
      close(wakeFd);
    }
  }
  Feed(const Feed&) = delete;
  Feed& operator=(const Feed&) = delete;

  void Run(jack_nframes_t frames) override {
    void* buffer = jack_port_get_buffer(port, frames);
    if (buffer == nullptr) {
      return;
    }
    const jack_nframes_t count = jack_midi_get_event_count(buffer);
    bool queued = false;
    for (jack_nframes_t i = 0; i < count; ++i) {
      jack_midi_event_t event{};
      if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) {
        continue;
      }
      if (ring.Push(0, {event.buffer, event.size})) {
        queued = true;
      } else {
        dropped.fetch_add(1, std::memory_order_relaxed);
      }
    }
    if (queued) {
      Wake();
    }
  }

  void Wake() noexcept {
    const std::uint64_t one = 1;
    if (write(wakeFd, &one, sizeof one) < 0) {
      // Only a full counter fails, and then the thread is awake anyway.
    }
  }

  SpscMessageRing ring;
  int wakeFd;
  std::atomic<std::uint64_t> dropped{0};
};

JackInputPort::OpenResult JackInputPort::Open(const std::string& clientName,
                                              const std::string& portName,
                                              const std::string& source, Deliver deliver) {
  auto feed = std::make_shared<Feed>();
  if (feed->wakeFd < 0) {
    return {nullptr, MidiError::OpenFailed};
  }
  std::unique_ptr<JackInputPort> input(new JackInputPort(feed, std::move(deliver)));
  try {
    input->delivery_ = std::thread([raw = input.get()] { raw->Run(); });
  } catch (const std::system_error&) {
    return {nullptr, MidiError::OpenFailed};
  }
  auto opened = JackClient::OpenPort(clientName, portName, JackPortIsInput, source, feed);
  if (opened.error != MidiError::None) {
    return {nullptr, opened.error};
  }
  input->client_ = std::move(opened.client);
  return {std::move(input), MidiError::None};
}

JackInputPort::JackInputPort(std::shared_ptr<Feed> feed, Deliver deliver)
    : feed_(std::move(feed)), deliver_(std::move(deliver)) {}

JackInputPort::~JackInputPort() {
  stop_.store(true);
  feed_->Wake();
  if (delivery_.joinable()) {
    delivery_.join();
  }
  client_.reset();  // the feed stays with the client's close, however long that takes
}

std::uint64_t JackInputPort::dropped() const {
  return feed_->dropped.load() + broken_.load();
}

void JackInputPort::Run() {
  MidiParser parser(kRingBytes);
  std::vector<std::uint8_t> event;
  event.reserve(2048);
  const auto hand = [this](std::span<const std::uint8_t> message) {
    try {
      deliver_(message);
    } catch (...) {  // the handler's fault must not end the delivery thread (or the program)
    }
  };
  while (!stop_.load()) {
    const auto record = feed_->ring.Peek();
    if (!record) {
      // A push after the look above has written the eventfd already: poll returns at once.
      pollfd wake{feed_->wakeFd, POLLIN, 0};
      if (poll(&wake, 1, kWakeSliceMs) > 0) {
        std::uint64_t count = 0;
        if (read(feed_->wakeFd, &count, sizeof count) < 0) {
          // Nothing to read: another look at the ring is all that is needed.
        }
      }
      continue;
    }
    event.resize(record->size);
    feed_->ring.CopyMessage(*record, event.data());
    feed_->ring.Pop(*record);
    parser.Feed(event, hand);
    broken_.store(parser.dropped());
  }
}

}  // namespace movrin
