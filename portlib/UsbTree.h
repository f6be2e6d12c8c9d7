// Devices of the maker's USB vendor ID located by their position in the USB tree: the
// number the walk gives their hub, and their port on it.
#pragma once
#include <cstdint>

unsigned char FindUsbDriverByProductId(std::int32_t productId, wchar_t* driverKey);
unsigned char FindUsbDriverByPosition(unsigned char hub, unsigned char port, wchar_t* driverKey);
unsigned char FindUsbPositionOfDriver(const wchar_t* driverKey, unsigned char* hub,
                                      unsigned char* port);
