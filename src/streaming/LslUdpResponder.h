// The outlet's UDP side: answers resolve queries that match its stream, and time probes.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "streaming/LslNetwork.h"
#include "streaming/LslSockets.h"

namespace tamix {

// Runs on a thread of its own, so a time probe is answered at once whatever
// the data connections are doing. It only ever answers: it sends nothing
// unsolicited, and a loopback responder has no socket off 127.0.0.1.
class LslUdpResponder {
  public:
    LslUdpResponder() = default;
    LslUdpResponder(const LslUdpResponder&) = delete;
    LslUdpResponder& operator=(const LslUdpResponder&) = delete;
    ~LslUdpResponder() { Stop(); }

    // Binds the service port (in LSL's range); with LslNetwork::Full also the
    // multicast port with the groups joined. False with `error` when the
    // service port cannot be bound.
    bool Bind(LslNetwork network, std::string& error);
    uint16_t servicePort() const { return servicePort_; }

    // Starts answering for the info with these fields and shortinfo XML.
    bool Start(std::map<std::string, std::string> fields, std::string shortInfo,
               std::string& error);
    void Stop();

  private:
    void Serve();
    void Answer(int fd, bool timeServices);

    LslFd service_;
    LslFd multicast_;
    uint16_t servicePort_ = 0;
    std::map<std::string, std::string> fields_;
    std::string shortInfo_;
    LslWakeup wakeup_;
    std::thread thread_;
    std::vector<char> datagram_ = std::vector<char>(65536);
};

}  // namespace tamix
