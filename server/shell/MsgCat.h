#pragma once
// The message catalogue binding: texts by number from libtovkmsg.

#include <cstdint>
#include <string>

std::string GetMsg(uint16_t number);
void GetErrTexts(uint16_t status, std::string& title, std::string& description);
