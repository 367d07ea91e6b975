#include "loopback-connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <initializer_list>

namespace testing_support {

LoopbackConnection::LoopbackConnection() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* named = reinterpret_cast<sockaddr*>(&address);
    if (bind(listener_, named, sizeof address) != 0 || listen(listener_, 1) != 0 ||
        getsockname(listener_, named, &length) != 0) {
        return;
    }
    client_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (client_ < 0 || connect(client_, named, sizeof address) != 0) return;
    served_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
}

void LoopbackConnection::close() {
    for (int* fd : {&client_, &served_, &listener_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

}  // namespace testing_support
