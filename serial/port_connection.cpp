#include "serial/port_connection.h"

namespace quillon::serial {

TPortConnection::OpenResult TPortConnection::OpenPort(const std::string& portName, int32_t baudRate, int parityIndex,
                                                      int dataBits, int stopBitsIndex,
                                                      const std::function<platform::CommTimeouts()>& timeouts)
{
    ReceivedTotal = 0;
    SentTotal = 0;
    PortName = portName;
    BaudRate = baudRate;

    Handle = platform::CommPort::open(portName, &openFailure_);
    if (!Handle) return OpenResult::OpenFailed;

    Handle->getTimeouts(SavedTimeouts);
    Timeouts = timeouts();
    Handle->setTimeouts(Timeouts);

    platform::CommState state;
    Handle->getState(state);
    state.BaudRate = static_cast<uint32_t>(baudRate);
    state.ByteSize = static_cast<uint8_t>(dataBits);
    state.StopBits = static_cast<uint8_t>(stopBitsIndex);
    state.fParity = parityIndex != 0;
    state.Parity = static_cast<uint8_t>(state.fParity ? parityIndex : 0);
    state.fBinary = true;
    if (baudRate <= 0 || !Handle->setState(state)) {
        ClosePort();
        return OpenResult::SetupFailed;
    }
    return OpenResult::Opened;
}

void TPortConnection::ClosePort()
{
    if (!Handle) return;
    Handle->setTimeouts(SavedTimeouts);
    Handle->close();
    Handle.reset();
}

} // namespace quillon::serial
