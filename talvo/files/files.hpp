// Checking, reading, creating and measuring files: read.hpp and write.hpp.
#pragma once

#include "talvo/files/read.hpp"
#include "talvo/files/write.hpp"
