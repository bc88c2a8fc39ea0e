// everything
#pragma once
#include "talvo/result.hpp"
