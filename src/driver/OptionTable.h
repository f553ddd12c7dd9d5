#pragma once

#include "driver/CommandLineParser.h"

// The program's options, in the order the usage text lists them.
extern const CommandLineParser::OptionTableRow optionTable[];
