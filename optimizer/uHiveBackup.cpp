#include "optimizer/uHiveBackup.h"
