#include "IdIOHandler.h"

// Only the base's own Close can run here: the subclass is already gone (see the header).
TIdIOHandler::~TIdIOHandler() {
    TIdIOHandler::Close();
}
