#include "RequestQueue.h"

namespace wirrow {

SendRequest::SendRequest(uint8_t channelByte, uint8_t subchannelByte, const void *message, uint32_t messageLength)
    : channel(channelByte),
      subchannel(subchannelByte),
      data(static_cast<const uint8_t *>(message)),
      length(messageLength) {}

ReceiveRequest::ReceiveRequest(uint8_t *channelOut, uint8_t *subchannelOut, void *target, uint32_t *lengthInOut)
    : channel(channelOut), subchannel(subchannelOut), buffer(static_cast<uint8_t *>(target)), length(lengthInOut) {}

template class RequestQueue<SendRequest>;
template class RequestQueue<ReceiveRequest>;

}  // namespace wirrow
