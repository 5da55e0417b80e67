#include "HttpCli.h"
