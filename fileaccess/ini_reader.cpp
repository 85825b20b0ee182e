#include "fileaccess/ini_reader.h"
