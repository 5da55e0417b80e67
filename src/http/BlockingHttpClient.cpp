#include "BlockingHttpClient.h"
