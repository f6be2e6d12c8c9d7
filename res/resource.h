#pragma once
#define IDS_LOADER_ABSENT 122
