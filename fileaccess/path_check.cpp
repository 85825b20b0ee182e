#include "fileaccess/path_check.h"
