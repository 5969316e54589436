// A build without an MQTT client library: --mqtt says so at the start.
#include "ZxMqttPublisher.h"

ZxMqttPublisher::ZxMqttPublisher(const ZxMqttRequest& request, const ZxIdMapping& mapping,
                                 const std::vector<ZxSlot>& slots, bool saving, const std::string& logPath,
                                 std::FILE* err)
    : request_(request), saving_(saving), err_(err), feed_(slots.size()),
      messages_(request.topic, mapping, slots), logWatch_(logPath) {}

ZxMqttPublisher::~ZxMqttPublisher() = default;

bool ZxMqttPublisher::connect(std::string& error) {
    error = "MQTT is not available in this build of zxcollect";
    return false;
}

void ZxMqttPublisher::start() {}

void ZxMqttPublisher::stop() {}
