// Resource ids shared by the resource script and the code.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDI_OBXICON_NAME "OBXICON"
