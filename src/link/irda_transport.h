#pragma once
// The platform's IrDA sockets: WinSock AF_IRDA on Windows, the kernel's AF_IRDA
// (family 23, from the out-of-tree IrDA modules) on Linux, where the adapters the program
// drives itself stand in once the kernel has none.
#include "link/transport.h"

#include <memory>

namespace dm {

// The IAS service name of the dosimeter's OBEX file transfer.
inline constexpr const char* kObexService = "OBEX:IrXfer";

std::unique_ptr<Transport> MakeIrdaTransport(const LinkTimeouts& timeouts);

// The irda link: the platform's IrDA sockets; on a Linux kernel without them, the one
// IrDA adapter found (see irda/adapters.h), else a link whose discovery says what to do.
std::unique_ptr<Transport> MakeIrdaOrAdapterTransport(const TransportOptions& options);

inline constexpr const char* kMsgNoIrdaAdapter =
    "no IrDA sockets in this kernel, and no IrDA adapter found: plug one in and choose it in the Link menu, or "
    "give it with --link sir:PATH or --link usb-irda (dosimeter-cli adapters lists them)";

} // namespace dm
