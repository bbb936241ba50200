// Real history from CSV files: one-minute bars or ticks of one symbol.
//
// Bars: time,open,high,low,close[,tick_volume[,spread[,real_volume]]]
// Ticks: time,bid,ask[,last[,volume[,flags]]]
// A time is Unix seconds (bars), Unix milliseconds (ticks), or a UTC date
// "YYYY-MM-DD HH:MM[:SS[.mmm]]" (dots may separate the date too). Fields are
// separated by commas, semicolons or tabs; a first line that starts with a
// letter is a header.
#pragma once

#include <string>
#include <vector>

#include "wire/bars.h"
#include "wire/symbols.h"

bool csv_read_bars(const std::string& path, std::vector<RateRecord>* bars, std::string* error);
bool csv_read_ticks(const std::string& path, std::vector<TickRecord>* ticks, std::string* error);
