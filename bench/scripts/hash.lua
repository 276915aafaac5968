-- Hash table put and get of 200 000 integer keys, a few rounds.
local function hash(n, rounds)
  local h = {}
  local s = 0
  for r = 1, rounds do
    for i = 0, n - 1 do
      h[(i * 7919) % 1000003] = i + r
    end
    for i = 0, n - 1 do
      s = (s + h[(i * 7919) % 1000003]) % 1000003
    end
  end
  local size = 0
  for _ in pairs(h) do
    size = size + 1
  end
  print(size)
  print(s)
end

hash(200000, 20)
