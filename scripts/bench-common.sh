# Shared by scripts/bench and scripts/bench-remote (sourced, not run): the test data and the timing
# of one run. sql() asks the server that MYSQL_UNIX_PORT names.
sql() { mysql -uroot -pwexrolp -N -B -e "$1"; }

# The source database bsrc: 3 tables with foreign keys and Korean text, about 20000 rows per MiB.
make_data() {
  local customers=$(($1 * 1000)); local orders=$((customers * 6)); local items=$((customers * 13))
  sql "CREATE DATABASE bsrc DEFAULT CHARSET utf8mb4;
USE bsrc;
CREATE TABLE customer (id INT PRIMARY KEY, name VARCHAR(40) NOT NULL, city VARCHAR(20), joined DATE,
  KEY (name));
CREATE TABLE orders (id INT PRIMARY KEY, customer_id INT NOT NULL, amount DECIMAL(10,2), note VARCHAR(60),
  FOREIGN KEY (customer_id) REFERENCES customer (id));
CREATE TABLE order_item (id INT AUTO_INCREMENT PRIMARY KEY, order_id INT NOT NULL, product VARCHAR(30),
  qty SMALLINT, memo VARCHAR(40), FOREIGN KEY (order_id) REFERENCES orders (id));
INSERT INTO customer SELECT seq, CONCAT('고객 ', seq, ' 김'), ELT(1 + seq % 4, '서울', '부산', '대구', 'Incheon'),
  '2020-01-01' + INTERVAL (seq % 1500) DAY FROM seq_1_to_$customers;
INSERT INTO orders SELECT seq, 1 + seq % $customers, (seq % 100000) / 7, IF(seq % 3 = 0, '빠른 배송 부탁합니다', NULL)
  FROM seq_1_to_$orders;
INSERT INTO order_item (order_id, product, qty, memo) SELECT 1 + seq % $orders, CONCAT('상품-', seq % 997), seq % 9,
  IF(seq % 2 = 0, '선물 포장', 'it''s \"ok\"') FROM seq_1_to_$items;"
}
checksums() { sql "CHECKSUM TABLE \`$1\`.customer, \`$1\`.orders, \`$1\`.order_item" | awk '{print $2}' | paste -sd,; }

# Waits until the server has written out and purged earlier work, so no run pays for the one
# before it (the first one for the data's generation).
settle() {
  for _ in $(seq 1 120); do
    dirty=$(sql "SHOW GLOBAL STATUS LIKE 'Innodb_buffer_pool_pages_dirty'" | awk '{print $2}')
    history=$(sql "SHOW GLOBAL STATUS LIKE 'Innodb_history_list_length'" | awk '{print $2}')
    [ "${dirty:-0}" -lt 50 ] && [ "${history:-0}" -lt 1000 ] && return 0
    sleep 0.5
  done
}
# Runs a command, prints its seconds; its output is in $work/out.
timed() {
  settle
  local start end
  start=$(date +%s.%N)
  "$@" >"$work/out" 2>&1 || { cat "$work/out" >&2; exit 1; }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }'
}
# The copy db equals the source (whose checksums are in $expected), then goes.
check() {
  [ "$(checksums "$1")" = "$expected" ] || { echo "bench: $1 differs from the source" >&2; exit 1; }
  sql "DROP DATABASE \`$1\`"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
