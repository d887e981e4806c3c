#include "JackClient.h"

#include <cstring>
#include <mutex>

#if defined(__SANITIZE_THREAD__)
#define MOVRIN_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MOVRIN_TSAN 1
#endif
#endif

#if defined(MOVRIN_TSAN)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace movrin {

namespace {

void Quiet(const char* /*message*/) {}

#if defined(MOVRIN_TSAN)
char cycleOrder;  // stands for JACK's graph order
#endif

}  // namespace

void JackClient::CycleBegins() {
#if defined(MOVRIN_TSAN)
  __tsan_acquire(&cycleOrder);
#endif
}

void JackClient::CycleEnds() {
#if defined(MOVRIN_TSAN)
  __tsan_release(&cycleOrder);
#endif
}

void JackClient::SilenceLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function(Quiet);
    jack_set_info_function(Quiet);
  });
}

std::unique_ptr<JackClient> JackClient::Open(const std::string& name) {
  SilenceLibrary();
  jack_status_t status{};
  jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
  if (client == nullptr) {
    return nullptr;
  }
  std::unique_ptr<JackClient> result(new JackClient(client));
  jack_on_shutdown(client, &JackClient::OnShutdown, result.get());
  return result;
}

JackClient::JackClient(jack_client_t* client) : client_(client) {}

JackClient::~JackClient() {
  jack_client_close(client_);
}

void JackClient::OnShutdown(void* self) {
  static_cast<JackClient*>(self)->serverGone_.store(true);
}

bool JackClient::HasMidiPort(const std::string& fullName, unsigned long flags) const {
  const jack_port_t* port = jack_port_by_name(client_, fullName.c_str());
  if (port == nullptr) {
    return false;
  }
  const auto portFlags = static_cast<unsigned long>(jack_port_flags(port));
  const char* type = jack_port_type(port);
  return (portFlags & flags) == flags && type != nullptr &&
         std::strcmp(type, JACK_DEFAULT_MIDI_TYPE) == 0;
}

std::vector<std::string> JackClient::ConnectionsOf(const std::string& fullName) const {
  std::vector<std::string> names;
  const jack_port_t* port = jack_port_by_name(client_, fullName.c_str());
  if (port == nullptr) {
    return names;
  }
  const char** connections = jack_port_get_all_connections(client_, port);
  if (connections == nullptr) {
    return names;
  }
  for (const char** it = connections; *it != nullptr; ++it) {
    names.emplace_back(*it);
  }
  jack_free(static_cast<void*>(connections));
  return names;
}

}  // namespace movrin
