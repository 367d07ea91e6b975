#include "private-session-bus.h"

#include "process-runner.h"

namespace testing_support {
namespace {

const char* CONFIGURATION = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

}  // namespace

PrivateSessionBus::PrivateSessionBus() {
    const fs::path configuration = folder_.path() / "bus.conf";
    writeText(configuration, CONFIGURATION);
    StartedServer server = startAServer(
        {"dbus-daemon", "--config-file=" + configuration.string(), "--nofork", "--nopidfile", "--print-address=3"}, 3);
    pid_ = server.pid;
    address_ = server.announced;
}

PrivateSessionBus::~PrivateSessionBus() { endTheServer(pid_); }

}  // namespace testing_support
