#include "tflattreemodel.h"
