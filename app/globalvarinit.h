#pragma once

// Registers the value types that cross threads in queued calls.
void globalVarInit();
