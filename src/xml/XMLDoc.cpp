#include "XMLDoc.h"
