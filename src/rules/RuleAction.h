#pragma once

// What a match rule tells the converter to do with a path it covers.
enum class RuleAction { Ignore = 0, Export = 1, Recurse = 2 };
