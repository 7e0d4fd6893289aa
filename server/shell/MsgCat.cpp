#include "server/shell/MsgCat.h"

#include "common/ShortString.h"
#include "companion/tovkmsg/TovkMsg.h"

std::string GetMsg(uint16_t number) {
  TShortString text{};
  GetStrMsg(number, text);
  return FromShortString(text);
}

void GetErrTexts(uint16_t status, std::string& title, std::string& description) {
  TShortString first{}, second{};
  GetErrMsg(status, first, second);
  title = FromShortString(first);
  description = FromShortString(second);
}
