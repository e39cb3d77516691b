#pragma once
// The platform's IrDA sockets: WinSock AF_IRDA on Windows, the kernel's AF_IRDA
// (family 23, from the out-of-tree IrDA modules) on Linux.
#include "link/transport.h"

#include <memory>

namespace dm {

// The IAS service name of the dosimeter's OBEX file transfer.
inline constexpr const char* kObexService = "OBEX:IrXfer";

std::unique_ptr<Transport> MakeIrdaTransport(const LinkTimeouts& timeouts);

} // namespace dm
