// A UDP endpoint with a default destination.
#pragma once

#include "tftp/IdUDPBase.h"

class TIdUDPClient : public TIdUDPBase {
public:
    using TIdUDPBase::TIdUDPBase;

    const std::string& Host() const { return FHost; }
    void SetHost(std::string host) { FHost = std::move(host); }
    int32_t Port() const { return FPort; }
    void SetPort(int32_t port) { FPort = port; }

    void SendToHost(const std::string& data) { SendTextTo(FHost, FPort, data); }
};
