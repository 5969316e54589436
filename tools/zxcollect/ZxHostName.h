// This computer's name, for the default MQTT topic prefix.
#pragma once

#include <string>

// "localhost" when the system does not tell.
std::string zxHostName();
