<?php
// SPDX-License-Identifier: GPL-3.0-or-later
// Server check: "OK" only when mailboxes can actually be stored.

declare(strict_types=1);

require_once __DIR__ . '/../lib/request.php';

velkorant_begin(false);
velkorant_test_hook('comprobar_conexion_servidor');
velkorant_store(true);
velkorant_answer(200, 'OK');
