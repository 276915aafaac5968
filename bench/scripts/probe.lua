-- The Lua half of the probe: prints what a working player prints.
print(6 * 7)
