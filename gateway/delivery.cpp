// Hands the prepared request to the carrier's paging web server over TCP port 80.
#include "gateway/delivery.h"

#include <cstring>

#include "gateway/assemble.h"

namespace {

// Continues after a partial write; false when the connection refuses the rest.
bool SendAll(SocketHandle handle, const char* bytes, long count) {
    while (count > 0) {
        const long written = SendBytes(handle, bytes, count);
        if (written <= 0) return false;
        bytes += written;
        count -= written;
    }
    return true;
}

}  // namespace

const char* DeliverRequest(GatewayRequest& request) {
    StartSockets();

    memset(&request.serverAddress, 0, sizeof request.serverAddress);
    request.portNumber = GATEWAY_PORT;
    request.serverAddress.sin_family = AF_INET;
    request.serverAddress.sin_port = htons(static_cast<unsigned short>(request.portNumber));

    request.hostEntry = gethostbyname(request.host);
    if (request.hostEntry == nullptr || request.hostEntry->h_addr_list[0] == nullptr) return STATUS_CONNECT_FAILED;
    size_t addressLength = static_cast<size_t>(request.hostEntry->h_length);
    if (addressLength > sizeof request.serverAddress.sin_addr) addressLength = sizeof request.serverAddress.sin_addr;
    memcpy(&request.serverAddress.sin_addr, request.hostEntry->h_addr_list[0], addressLength);

    request.protocolEntry = getprotobyname("tcp");
    if (request.protocolEntry == nullptr) return STATUS_NO_TCP;

    request.socketHandle = socket(AF_INET, SOCK_STREAM, request.protocolEntry->p_proto);
    if (IsBadSocket(request.socketHandle)) return STATUS_NO_SOCKET;

    if (connect(request.socketHandle, reinterpret_cast<const sockaddr*>(&request.serverAddress),
                sizeof request.serverAddress) < 0) {
        CloseSocket(request.socketHandle);
        return STATUS_CONNECT_FAILED;
    }

    AssembleRequest(request);
    const bool written =
        SendAll(request.socketHandle, request.requestText, static_cast<long>(strlen(request.requestText)));
    CloseSocket(request.socketHandle);
    return written ? STATUS_SENT : STATUS_SEND_FAILED;
}
