// Resource identifiers shared by tarvik.rc and the code.
#pragma once
#define IDI_TARVIK 1
#define IDB_LOGO 101
#define IDB_EXIT 102
