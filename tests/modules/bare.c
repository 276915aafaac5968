/* A module library without initModule: it is loaded, reported and never called. */
int brova_bare_module_marker(void) { return 1; }
