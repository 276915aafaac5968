-- Sieve of Eratosthenes over an array of flags, on a fresh array each round.
local function sieve(n)
  local flags = {}
  for i = 0, n - 1 do
    flags[#flags + 1] = 1
  end
  flags[1] = 0
  flags[2] = 0
  local i = 2
  while i * i < n do
    if flags[i + 1] == 1 then
      for j = i * i, n - 1, i do
        flags[j + 1] = 0
      end
    end
    i = i + 1
  end
  local count = 0
  for k = 0, n - 1 do
    count = count + flags[k + 1]
  end
  return count
end

local function sieves(rounds)
  local total = 0
  for r = 1, rounds do
    total = total + sieve(2000000)
  end
  return total
end

print(sieves(4))
