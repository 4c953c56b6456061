#include "rondel.h"
