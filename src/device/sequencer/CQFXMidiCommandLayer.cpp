#include "device/sequencer/CQFXMidiCommandLayer.h"

QFXCommandLayerFactory CQFXMidiCommandLayer::factory(CMidiDevice& device)
{
    return [&device](std::vector<AcceptedDeviceModel> models, std::int32_t timeOfRetry) {
        return std::make_shared<CQFXMidiCommandLayer>(CQFXMidi::create(device, std::move(models), timeOfRetry));
    };
}
