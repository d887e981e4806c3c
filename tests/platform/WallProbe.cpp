// Built against the window's library by the wall tests, with the header they name.
#include MOVRIN_WALL_HEADER
