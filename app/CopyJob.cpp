#include "CopyJob.h"
